# CHost's operations of the loader, processing state, render callback and parameter
# flow (Windows). An object library: its objects become part of pomaro_app.
if(WIN32)
  add_library(pomaro_host_obj OBJECT
    ${CMAKE_CURRENT_LIST_DIR}/PluginLoader.cpp
    ${CMAKE_CURRENT_LIST_DIR}/PluginPath.cpp
    ${CMAKE_CURRENT_LIST_DIR}/Processing.cpp
    ${CMAKE_CURRENT_LIST_DIR}/HostAudioProvider.cpp
    ${CMAKE_CURRENT_LIST_DIR}/HostParameterFlow.cpp)
  target_include_directories(pomaro_host_obj PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(pomaro_host_obj PUBLIC pomaro_flow pomaro_render pomaro_diag pomaro_audio_core
                        pomaro_resource_ids vst3sdk_hosting)
  pomaro_warnings(pomaro_host_obj)
endif()
