# The VST 3 SDK is a dependency, not our code: it is fetched by tools/fetch-vst3sdk.sh
# (checksums in cmake/vst3sdk.md5) into third_party/vst3sdk, or taken from
# -DVST3_SDK_DIR=<folder holding base/, pluginterfaces/ and public.sdk/>.
# Only the sources we use are built, as static libraries without warnings.

set(VST3_SDK_DIR "" CACHE PATH "Existing VST 3 SDK root (holds base/, pluginterfaces/, public.sdk/)")
if(NOT VST3_SDK_DIR)
  set(_sdk "${PROJECT_SOURCE_DIR}/third_party/vst3sdk")
  if(NOT EXISTS "${_sdk}/.unpacked" AND CMAKE_HOST_WIN32)
    # The fetch script works through Debian's apt.
    message(FATAL_ERROR "No VST 3 SDK: pass -DVST3_SDK_DIR=<folder holding base/, pluginterfaces/ and "
                        "public.sdk/> (README.md, \"Build on Windows\")")
  elseif(NOT EXISTS "${_sdk}/.unpacked")
    find_program(BASH bash REQUIRED)
    execute_process(COMMAND ${BASH} "${PROJECT_SOURCE_DIR}/tools/fetch-vst3sdk.sh" "${_sdk}"
                    RESULT_VARIABLE _rc)
    if(NOT _rc EQUAL 0)
      message(FATAL_ERROR "Could not fetch the VST 3 SDK (tools/fetch-vst3sdk.sh); pass -DVST3_SDK_DIR=")
    endif()
  endif()
  set(VST3_SDK_DIR "${_sdk}" CACHE PATH "" FORCE)
endif()
foreach(_d base pluginterfaces public.sdk)
  if(NOT EXISTS "${VST3_SDK_DIR}/${_d}")
    message(FATAL_ERROR "VST3_SDK_DIR=${VST3_SDK_DIR} has no ${_d}/")
  endif()
endforeach()

set(_S "${VST3_SDK_DIR}")
function(_vst3_lib name)
  add_library(${name} STATIC ${ARGN})
  target_include_directories(${name} SYSTEM PUBLIC "${_S}")
  if(CMAKE_BUILD_TYPE STREQUAL "Debug")
    target_compile_definitions(${name} PUBLIC DEVELOPMENT=1)
  else()
    target_compile_definitions(${name} PUBLIC RELEASE=1)
  endif()
  target_compile_options(${name} PRIVATE -w)
  set_target_properties(${name} PROPERTIES POSITION_INDEPENDENT_CODE ON)
endfunction()

# Interface ids, defined once for hosts and plug-ins alike.
_vst3_lib(vst3sdk_base
  ${_S}/base/source/baseiids.cpp ${_S}/base/source/fbuffer.cpp ${_S}/base/source/fdebug.cpp
  ${_S}/base/source/fdynlib.cpp ${_S}/base/source/fobject.cpp ${_S}/base/source/fstreamer.cpp
  ${_S}/base/source/fstring.cpp ${_S}/base/source/timer.cpp ${_S}/base/source/updatehandler.cpp
  ${_S}/base/thread/source/flock.cpp
  ${_S}/pluginterfaces/base/conststringtable.cpp ${_S}/pluginterfaces/base/coreiids.cpp
  ${_S}/pluginterfaces/base/funknown.cpp ${_S}/pluginterfaces/base/ustring.cpp
  ${_S}/public.sdk/source/vst/vstinitiids.cpp
  ${_S}/public.sdk/source/common/commoniids.cpp)
if(NOT WIN32)
  find_package(Threads REQUIRED)
  target_link_libraries(vst3sdk_base PUBLIC Threads::Threads)
endif()

# What a host uses: host context, event and parameter lists, memory stream.
_vst3_lib(vst3sdk_hosting
  ${_S}/public.sdk/source/vst/hosting/hostclasses.cpp
  ${_S}/public.sdk/source/vst/hosting/pluginterfacesupport.cpp
  ${_S}/public.sdk/source/vst/hosting/eventlist.cpp
  ${_S}/public.sdk/source/vst/hosting/parameterchanges.cpp
  ${_S}/public.sdk/source/vst/utility/stringconvert.cpp
  ${_S}/public.sdk/source/common/memorystream.cpp)
target_link_libraries(vst3sdk_hosting PUBLIC vst3sdk_base)

# What a plug-in uses: factory, module entry, component/controller helpers, view base.
if(WIN32)
  _vst3_lib(vst3sdk_plugin
    ${_S}/public.sdk/source/main/pluginfactory.cpp
    ${_S}/public.sdk/source/main/dllmain.cpp
    ${_S}/public.sdk/source/main/moduleinit.cpp
    ${_S}/public.sdk/source/vst/vstaudioeffect.cpp
    ${_S}/public.sdk/source/vst/vstcomponent.cpp
    ${_S}/public.sdk/source/vst/vstcomponentbase.cpp
    ${_S}/public.sdk/source/vst/vsteditcontroller.cpp
    ${_S}/public.sdk/source/vst/vstbus.cpp
    ${_S}/public.sdk/source/vst/vstparameters.cpp
    ${_S}/public.sdk/source/common/pluginview.cpp)
  target_link_libraries(vst3sdk_plugin PUBLIC vst3sdk_hosting)
endif()
