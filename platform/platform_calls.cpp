// The functions of the platform seam's extraction and launcher sections: each passes its
// arguments on to the entry of the table in use.
#include "platform/platform.h"

PlatformHandle PlatformCreateFile(PlatformHandle folder, const char16_t* path,
                                  uint32_t attributes) {
    return ActivePlatformCalls.createFile(folder, path, attributes);
}

bool PlatformWriteFile(PlatformHandle file, const void* data, uint32_t size) {
    return ActivePlatformCalls.writeFile(file, data, size);
}

bool PlatformIsDiskFile(PlatformHandle file) { return ActivePlatformCalls.isDiskFile(file); }

bool PlatformSetFileTimes(PlatformHandle file, const FileTime* creation, const FileTime* access,
                          const FileTime* write) {
    return ActivePlatformCalls.setFileTimes(file, creation, access, write);
}

void PlatformCloseFile(PlatformHandle file) { ActivePlatformCalls.closeFile(file); }

bool PlatformCreateDirectory(PlatformHandle folder, const char16_t* path) {
    return ActivePlatformCalls.createDirectory(folder, path);
}

bool PlatformDeleteFile(PlatformHandle folder, const char16_t* path) {
    return ActivePlatformCalls.deleteFile(folder, path);
}

uint32_t PlatformGetFileAttributes(PlatformHandle folder, const char16_t* path) {
    return ActivePlatformCalls.getFileAttributes(folder, path);
}

bool PlatformSetFileAttributes(PlatformHandle folder, const char16_t* path, uint32_t attributes) {
    return ActivePlatformCalls.setFileAttributes(folder, path, attributes);
}

PlatformWindow PlatformFindWindow(const char16_t* className, const char16_t* title) {
    return ActivePlatformCalls.findWindow(className, title);
}

void PlatformSetForegroundWindow(PlatformWindow window) {
    ActivePlatformCalls.setForegroundWindow(window);
}

void PlatformMessageBox(const char16_t* text, const char16_t* caption, uint32_t style) {
    ActivePlatformCalls.messageBox(text, caption, style);
}

int PlatformFormatInteger(char16_t* buffer, const char16_t* format, int32_t value) {
    return ActivePlatformCalls.formatInteger(buffer, format, value);
}

uint32_t PlatformGetTempPath(uint32_t bufferUnits, char16_t* buffer) {
    return ActivePlatformCalls.getTempPath(bufferUnits, buffer);
}

bool PlatformFindResource(uint16_t id, const char16_t* type, const void** data, uint32_t* size) {
    return ActivePlatformCalls.findResource(id, type, data, size);
}

bool PlatformCreateProtectedFolder(const char16_t* path) {
    return ActivePlatformCalls.createProtectedFolder(path);
}

PlatformHandle PlatformHoldFolder(PlatformHandle folder, const char16_t* path) {
    return ActivePlatformCalls.holdFolder(folder, path);
}

bool PlatformProtectFolder(PlatformHandle folder) {
    return ActivePlatformCalls.protectFolder(folder);
}

void PlatformReleaseFolder(PlatformHandle folder) { ActivePlatformCalls.releaseFolder(folder); }

PlatformHandle PlatformOpenSearch(PlatformHandle folder) {
    return ActivePlatformCalls.openSearch(folder);
}

int PlatformNextEntry(PlatformHandle search, PlatformFoundEntry* found) {
    return ActivePlatformCalls.nextEntry(search, found);
}

void PlatformCloseSearch(PlatformHandle search) { ActivePlatformCalls.closeSearch(search); }

int PlatformCompareText(const char16_t* a, const char16_t* b) {
    return ActivePlatformCalls.compareText(a, b);
}

int PlatformCompareFileNames(const char16_t* a, const char16_t* b) {
    return ActivePlatformCalls.compareFileNames(a, b);
}

bool PlatformRemoveDirectory(PlatformHandle folder, const char16_t* path) {
    return ActivePlatformCalls.removeDirectory(folder, path);
}

void PlatformLimitLibrarySearch() { ActivePlatformCalls.limitLibrarySearch(); }

uint32_t PlatformGetEnvironmentVariable(const char16_t* name, char16_t* buffer,
                                        uint32_t bufferUnits) {
    return ActivePlatformCalls.getEnvironmentVariable(name, buffer, bufferUnits);
}

bool PlatformSetEnvironmentVariable(const char16_t* name, const char16_t* value) {
    return ActivePlatformCalls.setEnvironmentVariable(name, value);
}

bool PlatformCreateProcess(const char16_t* application, char16_t* commandLine,
                           PlatformHandle* process, PlatformHandle* thread) {
    return ActivePlatformCalls.createProcess(application, commandLine, process, thread);
}

void PlatformCloseProcessHandle(PlatformHandle handle) {
    ActivePlatformCalls.closeProcessHandle(handle);
}
