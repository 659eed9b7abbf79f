# The Windows installer: both programs under <root>\bin\v80-win32\ of a
# suite root the user chooses (default C:\Ovix), a Start-menu entry per
# job of the dialog program, and an uninstaller that removes all of it.

# CMake's installer template makes a 32-bit ANSI installer; the programs are
# 64-bit and the Start-menu names Chinese.
# The directive must come first, before the template's byte-order mark.
set(ovix_nsis_template_file ${CMAKE_ROOT}/Modules/Internal/CPack/NSIS.template.in)
file(READ ${ovix_nsis_template_file} ovix_bom LIMIT 3 HEX)
set(ovix_skip 0)
if(ovix_bom STREQUAL "efbbbf")
  set(ovix_skip 3)
endif()
file(READ ${ovix_nsis_template_file} ovix_nsis_template OFFSET ${ovix_skip})
file(WRITE ${CMAKE_BINARY_DIR}/nsis/NSIS.template.in "Target amd64-unicode\n${ovix_nsis_template}")
list(PREPEND CMAKE_MODULE_PATH ${CMAKE_BINARY_DIR}/nsis)

set(CPACK_NSIS_PACKAGE_NAME "Ovix 补丁工具 ${PROJECT_VERSION}")
set(CPACK_NSIS_DISPLAY_NAME "Ovix 补丁工具")
set(CPACK_NSIS_INSTALL_ROOT "C:")
set(CPACK_PACKAGE_INSTALL_DIRECTORY "Ovix")
set(CPACK_NSIS_MUI_ICON ${CMAKE_SOURCE_DIR}/resources/windows/ovix.ico)
set(CPACK_NSIS_MUI_UNIICON ${CMAKE_SOURCE_DIR}/resources/windows/ovix.ico)
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)

# One entry per switch, in the order of the switch table.
set(ovix_start_menu_jobs
    "-pack|打包软件补丁" "-project|打包项目补丁" "-upload|上传软件补丁"
    "-upproject|提交项目补丁至服务器" "-download|下载补丁更新安装"
    "-checkupdate|检查更新" "-info|导出项目信息")
set(CPACK_NSIS_CREATE_ICONS_EXTRA "")
set(CPACK_NSIS_DELETE_ICONS_EXTRA "")
foreach(job IN LISTS ovix_start_menu_jobs)
  string(REPLACE "|" ";" job "${job}")
  list(GET job 0 switch)
  list(GET job 1 title)
  string(APPEND CPACK_NSIS_CREATE_ICONS_EXTRA
         "\n  CreateShortCut '$SMPROGRAMS\\\\$STARTMENU_FOLDER\\\\${title}.lnk' "
         "'$INSTDIR\\\\bin\\\\v80-win32\\\\OvixServerCommit.exe' '${switch}'")
  string(APPEND CPACK_NSIS_DELETE_ICONS_EXTRA
         "\n  Delete '$SMPROGRAMS\\\\$MUI_TEMP\\\\${title}.lnk'")
endforeach()
