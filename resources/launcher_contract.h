/* What a launcher carries and the packer changes: the payload's resource, and the string table
   of the names and texts the launcher works with, with the values of a launcher built here.
   Read by the launcher, the packer and the resource script alike, so plain macros only. The
   texts are UTF-8; C++ code takes them as u"" LAUNCHER_DEFAULT_... */
#ifndef LAUNCHER_CONTRACT_H
#define LAUNCHER_CONTRACT_H

/* The payload: a zip archive under the string type "zip" (case is ignored), id 117. The type as
   the resource script writes it, and as text. */
#define LAUNCHER_PAYLOAD_ID 117
#define LAUNCHER_PAYLOAD_TYPE zip
#define LAUNCHER_PAYLOAD_TYPE_NAME "zip"

/* String ids (all in the table's first block, ids 0 to 15). */
#define LAUNCHER_STRING_MAIN_PROGRAM 1  /* file name at the top of the folder, "*.exe" */
#define LAUNCHER_STRING_FOLDER_NAME 2   /* the folder under the temporary directory */
#define LAUNCHER_STRING_WINDOW_CLASS 3  /* the running copy's window: its class... */
#define LAUNCHER_STRING_WINDOW_TITLE 4  /* ...and its title */
#define LAUNCHER_STRING_CAPTION 5       /* caption of the "running" and "unpack failed" boxes */
#define LAUNCHER_STRING_ERROR_CAPTION 6 /* caption of the "start failed" box */
#define LAUNCHER_STRING_TEXT_RUNNING 7  /* the application is open already */
#define LAUNCHER_STRING_TEXT_UNPACK_FAILED 8
#define LAUNCHER_STRING_TEXT_START_FAILED 9 /* holds exactly one %d: the error code */

#define LAUNCHER_DEFAULT_MAIN_PROGRAM "zandro.exe"
#define LAUNCHER_DEFAULT_FOLDER_NAME "VORNIX"
#define LAUNCHER_DEFAULT_WINDOW_CLASS "vornix"
#define LAUNCHER_DEFAULT_WINDOW_TITLE "Kelmora"
#define LAUNCHER_DEFAULT_CAPTION "Kelmora"
#define LAUNCHER_DEFAULT_ERROR_CAPTION "错误提示"
#define LAUNCHER_DEFAULT_TEXT_RUNNING "程序已打开!"
#define LAUNCHER_DEFAULT_TEXT_UNPACK_FAILED "释放文件失败或文件被占用！"
#define LAUNCHER_DEFAULT_TEXT_START_FAILED "启动主程序失败，错误码:(%d)。"

#endif
