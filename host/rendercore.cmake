# Process data and the per-block render core: platform-free, so the audio thread's
# whole path is built, tested and benchmarked natively as well.
add_library(pomaro_rendercore STATIC
  ${CMAKE_CURRENT_LIST_DIR}/ProcessData.cpp
  ${CMAKE_CURRENT_LIST_DIR}/RenderCore.cpp)
target_include_directories(pomaro_rendercore PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(pomaro_rendercore PUBLIC pomaro_flow pomaro_render vst3sdk_hosting)
pomaro_warnings(pomaro_rendercore)

# CHost holds the process data and renders through the core.
if(TARGET pomaro_host_obj)
  target_link_libraries(pomaro_host_obj PUBLIC pomaro_rendercore)
endif()
