/* helpers.cpp -- the two helpers that Windows provides for the program:
 * the command interpreter's commands and the system's text of an error. */
#include "../platform.h"

#include <stdlib.h>
#include <string.h>

int run_console_command(const char *command) {
    return system(command);
}

void describe_system_error(DWORD code, char *text, size_t size) {
    if (size == 0) return;
    text[0] = 0;
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL, code,
                                  MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text, (DWORD)size, NULL);
    /* The system's text ends in ".\r\n"; the caller adds its own line end. */
    while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r' || text[length - 1] == ' '))
        text[--length] = 0;
    if (length == 0) {
        const char *prefix = "system error ";
        size_t used = strlen(prefix) < size - 1 ? strlen(prefix) : size - 1;
        memcpy(text, prefix, used);
        text[used] = 0;
        /* the code in decimal, as far as it fits */
        char digits[12];
        int count = 0;
        do digits[count++] = (char)('0' + code % 10);
        while ((code /= 10) != 0);
        while (count > 0 && used + 1 < size) text[used++] = digits[--count];
        text[used] = 0;
    }
}

FileTarget find_file_target(const char *name, char *path, size_t size) {
    if (strlen(name) >= size) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return TARGET_ERROR;
    }
    strcpy(path, name);
    DWORD attributes = GetFileAttributesA(name);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND) return TARGET_NONE;
        if (error == ERROR_PATH_NOT_FOUND) return TARGET_ERROR;
        /* Something that has no file attributes (under wine, a link to a
         * device): opened in place, which tells what it is. */
        return TARGET_OTHER;
    }
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        /* A symbolic link: the file it finally stands for. */
        HANDLE target = CreateFileA(name, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
        if (target != INVALID_HANDLE_VALUE) {
            DWORD length = GetFinalPathNameByHandleA(target, path, (DWORD)size, FILE_NAME_NORMALIZED);
            CloseHandle(target);
            if (length == 0 || length >= size) strcpy(path, name);
            else attributes = GetFileAttributesA(path);
        }
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        SetLastError(ERROR_ACCESS_DENIED); /* what opening it for writing gives */
        return TARGET_DIRECTORY;
    }
    /* A name that stands for a device (or, under wine, a link to one) is
     * written in place. */
    HANDLE opened = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                                OPEN_EXISTING, 0, NULL);
    if (opened == INVALID_HANDLE_VALUE) return TARGET_FILE;
    DWORD type = GetFileType(opened);
    CloseHandle(opened);
    return type == FILE_TYPE_DISK || type == FILE_TYPE_UNKNOWN ? TARGET_FILE : TARGET_OTHER;
}
