# Imported targets for the Windows build's own libraries (built into
# OVIX_WINDOWS_DEPS by scripts/windows/build-deps.sh) and the Win32 system
# libraries the core calls.
if(NOT OVIX_WINDOWS_DEPS OR NOT EXISTS ${OVIX_WINDOWS_DEPS}/stamp)
  message(FATAL_ERROR "OVIX_WINDOWS_DEPS does not name a folder made by "
                      "scripts/windows/build-deps.sh")
endif()

add_library(ovix_mariadb_static INTERFACE)
target_include_directories(ovix_mariadb_static INTERFACE ${OVIX_WINDOWS_DEPS}/include/mariadb)
target_link_libraries(ovix_mariadb_static INTERFACE ${OVIX_WINDOWS_DEPS}/lib/libmariadbclient.a
                      ${ZLIB_LIBRARIES} ws2_32 secur32 crypt32 shlwapi bcrypt advapi32)
add_library(ovix::mariadb ALIAS ovix_mariadb_static)

add_library(ovix_sodium_static INTERFACE)
target_include_directories(ovix_sodium_static INTERFACE ${OVIX_WINDOWS_DEPS}/include)
target_compile_definitions(ovix_sodium_static INTERFACE SODIUM_STATIC)
target_link_libraries(ovix_sodium_static INTERFACE ${OVIX_WINDOWS_DEPS}/lib/libsodium.a)
add_library(ovix::sodium ALIAS ovix_sodium_static)

# CLI11 and SimpleIni are header-only, copied into the same folder.
add_library(CLI11::CLI11 INTERFACE IMPORTED)
target_include_directories(CLI11::CLI11 INTERFACE ${OVIX_WINDOWS_DEPS}/include)

add_library(ovix_platform_libs INTERFACE)
target_include_directories(ovix_platform_libs INTERFACE ${OVIX_WINDOWS_DEPS}/include)
target_link_libraries(ovix_platform_libs INTERFACE ole32 bcrypt shell32)
# Windows 10 API level; UTF-8 inside, so no ANSI entry points by accident.
target_compile_definitions(ovix_platform_libs INTERFACE _WIN32_WINNT=0x0A00 WINVER=0x0A00
                           UNICODE _UNICODE NOMINMAX)
