# The two Windows GUI programs. Included from the top level only when
# cross-compiling with the MinGW-w64 toolchain.
enable_language(RC)

set(ORVA_WIN_LIBS
  user32 gdi32 msimg32 gdiplus winmm ole32 oleaut32 uuid ws2_32 winhttp
  shell32 comdlg32 comctl32 iphlpapi oleacc)

# UNICODE everywhere: wide Win32 entry points; wWinMain needs -municode.
set(ORVA_WIN_DEFS UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0A00)

add_executable(Orva-Lin WIN32 ${CLIENT_WIN} ${COMMON_WIN} ${CMAKE_SOURCE_DIR}/Orva-Lin/orva_lin.rc)
target_compile_definitions(Orva-Lin PRIVATE ${ORVA_WIN_DEFS})
target_link_options(Orva-Lin PRIVATE -municode)
target_link_libraries(Orva-Lin PRIVATE orva_core ${ORVA_WIN_LIBS})
set_target_properties(Orva-Lin PROPERTIES OUTPUT_NAME "Orva-Lin")

if(TALVO_WIN)
  add_executable(Talvo WIN32 ${TALVO_WIN} ${COMMON_WIN} ${CMAKE_SOURCE_DIR}/Talvo/talvo.rc)
  target_compile_definitions(Talvo PRIVATE ${ORVA_WIN_DEFS})
  target_link_options(Talvo PRIVATE -municode)
  target_link_libraries(Talvo PRIVATE orva_core ${ORVA_WIN_LIBS} runtimeobject)
endif()

# The stand-in speech engine that the Wine test bed registers in its
# prefixes. Built with the programs, never copied into dist.
add_library(speech_engine SHARED ${CMAKE_SOURCE_DIR}/tests/wine/speech_engine/speech_engine.cpp)
target_compile_definitions(speech_engine PRIVATE ${ORVA_WIN_DEFS})
target_include_directories(speech_engine PRIVATE ${CMAKE_SOURCE_DIR})
target_link_options(speech_engine PRIVATE -static -static-libgcc -static-libstdc++)
target_link_libraries(speech_engine PRIVATE runtimeobject uuid)
set_target_properties(speech_engine PROPERTIES PREFIX "" OUTPUT_NAME "speech_engine")
