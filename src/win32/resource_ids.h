// Ids of the Windows dialog program's resources, shared by the resource
// script (resources/windows/OvixServerCommit.rc) and the dialog code.  Plain
// #defines only: the resource compiler reads this file too.

#ifndef OVIX_WIN32_RESOURCE_IDS_H_
#define OVIX_WIN32_RESOURCE_IDS_H_

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

#define IDI_OVIX 128

// Dialog templates.
#define IDD_SERVER_COMMIT 102
#define IDD_TEXT_EDIT 174
#define IDD_UPDATE_PATCH 175
#define IDD_PACKAGE_SELECT 176
#define IDD_PROJECT_INFO 177
#define IDD_LOCAL_PACKAGE 129
#define IDD_PROGRESS 300
#define IDD_PASSWORD 310

// Upload dialog.
#define IDC_PASSWORD_LABEL 1000
#define IDC_SERVER_LABEL 1001
#define IDC_PORT_LABEL 1002
#define IDC_PASSWORD 1003
#define IDC_SERVER 1004
#define IDC_PORT 1005

// Download dialog (labels 1001 and 1002 as in the upload dialog).
#define IDC_DOWNLOAD_SERVER 1006
#define IDC_DOWNLOAD_PORT 1007
#define IDC_INSTALL_PATH 1008

// Pack dialog.
#define IDC_PACK_PATH 1010
#define IDC_PACK_SUBDIR 1015
#define IDC_PACK_TYPES 1016
#define IDC_PACK_USER 1017
#define IDC_PACK_PATH_LABEL 1018
#define IDC_PACK_SUBDIR_LABEL 1019

// Version dialog.
#define IDC_VERSION_NAME 1011
#define IDC_VERSION_VERSION 1012
#define IDC_VERSION_DATE 1014

// Project information dialog.
#define IDC_PROJECT_SERVER_LABEL 1018
#define IDC_PROJECT_PORT_LABEL 1019
#define IDC_PROJECT_SERVER 1020
#define IDC_PROJECT_PORT 1021
#define IDC_PROJECT_NAME 1022

// Text dialog.
#define IDC_TEXT 218

// Progress dialog.
#define IDC_PROGRESS_LABEL 301
#define IDC_PROGRESS_BAR 302

// Password dialog.
#define IDC_PASSWORD_PROMPT 311
#define IDC_PASSWORD_TEXT 312

#endif  // OVIX_WIN32_RESOURCE_IDS_H_
