# Render path: conversion of the plug-in's float output into device sample formats.
# Platform-free (standard C++ and SSE2), built natively and for Windows.
add_library(pomaro_render STATIC
  ${CMAKE_CURRENT_LIST_DIR}/SampleConversion.cpp)
target_include_directories(pomaro_render PUBLIC ${PROJECT_SOURCE_DIR})
pomaro_warnings(pomaro_render)
