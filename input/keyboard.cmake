# The keyboard strip: its geometry and mouse logic build in every tree (tested natively
# under the sanitizers); the Direct2D window joins the host's input objects on Windows.
add_library(pomaro_keyboard_geometry STATIC KeyboardGeometry.cpp)
target_include_directories(pomaro_keyboard_geometry PUBLIC ${PROJECT_SOURCE_DIR})
pomaro_warnings(pomaro_keyboard_geometry)

if(WIN32 AND TARGET pomaro_input_obj)
  target_link_libraries(pomaro_input_obj PUBLIC pomaro_keyboard_geometry d2d1 windowscodecs ole32 uuid)
endif()
