# Queues and routing between the user-interface, MIDI and audio threads (platform-free).
add_library(pomaro_flow STATIC
  ${CMAKE_CURRENT_LIST_DIR}/MidiMessageRing.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ParameterChangeTransfer2.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ParamValueCache.cpp
  ${CMAKE_CURRENT_LIST_DIR}/MidiControllerMap.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ParameterFlow.cpp)
target_include_directories(pomaro_flow PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(pomaro_flow PUBLIC vst3sdk_hosting)
if(NOT WIN32)
  find_package(Threads REQUIRED)
  target_link_libraries(pomaro_flow PUBLIC Threads::Threads)
endif()
pomaro_warnings(pomaro_flow)
