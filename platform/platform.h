/* platform.h -- the subset of the Windows interface that quombax calls.
 *
 * On Windows this is the system's own <windows.h>. Everywhere else the same
 * names, types and constants are declared here and implemented in
 * platform/posix/, which is POSIX (termios, poll, flock, mmap, job control
 * through the controlling terminal) with a few Linux (glibc) calls, each
 * behind one seam with a portable fallback (posix/system_seam.h): Linux is
 * tested on both paths, other POSIX systems would take the fallbacks but
 * are untested there. A few helpers that both
 * builds need (the command interpreter's two commands, test hooks) follow
 * at the end. */
#ifndef QUOMBAX_PLATFORM_H
#define QUOMBAX_PLATFORM_H

#ifdef _WIN32

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#else /* POSIX: our own declarations */

#include <stdint.h>
#include <stddef.h>

#define WINAPI

typedef void *HANDLE;
typedef void *HWND;
typedef void *LPVOID;
typedef const void *LPCVOID;
typedef int BOOL;
typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef int16_t SHORT;
typedef char CHAR;
typedef uint16_t WCHAR;
typedef uint32_t UINT;
typedef DWORD *LPDWORD;
typedef const char *LPCSTR;
typedef char *LPSTR;
typedef WORD *LPWORD;

#define TRUE 1
#define FALSE 0

#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)

typedef struct SECURITY_ATTRIBUTES_ *LPSECURITY_ATTRIBUTES;
typedef struct OVERLAPPED_ *LPOVERLAPPED;

typedef struct _COORD {
    SHORT X;
    SHORT Y;
} COORD;

typedef struct _CONSOLE_CURSOR_INFO {
    DWORD dwSize;
    BOOL bVisible;
} CONSOLE_CURSOR_INFO;

typedef struct _KEY_EVENT_RECORD {
    BOOL bKeyDown;
    WORD wRepeatCount;
    WORD wVirtualKeyCode;
    WORD wVirtualScanCode;
    union {
        WCHAR UnicodeChar;
        CHAR AsciiChar;
    } uChar;
    DWORD dwControlKeyState;
} KEY_EVENT_RECORD;

typedef struct _WINDOW_BUFFER_SIZE_RECORD {
    COORD dwSize;
} WINDOW_BUFFER_SIZE_RECORD;

typedef struct _INPUT_RECORD {
    WORD EventType;
    union {
        KEY_EVENT_RECORD KeyEvent;
        WINDOW_BUFFER_SIZE_RECORD WindowBufferSizeEvent;
    } Event;
} INPUT_RECORD;

typedef DWORD(WINAPI *LPTHREAD_START_ROUTINE)(LPVOID);

/* Error codes (GetLastError). */
#define ERROR_SUCCESS 0
#define ERROR_FILE_NOT_FOUND 2
#define ERROR_PATH_NOT_FOUND 3
#define ERROR_TOO_MANY_OPEN_FILES 4
#define ERROR_ACCESS_DENIED 5
#define ERROR_INVALID_HANDLE 6
#define ERROR_NOT_ENOUGH_MEMORY 8
#define ERROR_WRITE_FAULT 29
#define ERROR_READ_FAULT 30
#define ERROR_HANDLE_EOF 38
#define ERROR_HANDLE_DISK_FULL 39
#define ERROR_NOT_SUPPORTED 50
#define ERROR_FILE_EXISTS 80
#define ERROR_INVALID_PARAMETER 87
#define ERROR_BROKEN_PIPE 109
#define ERROR_DISK_FULL 112
#define ERROR_INVALID_NAME 123
#define ERROR_BAD_PATHNAME 161
#define ERROR_ALREADY_EXISTS 183
#define ERROR_FILE_TOO_LARGE 223
#define ERROR_PIPE_BUSY 231
#define ERROR_NO_DATA 232
#define ERROR_PIPE_NOT_CONNECTED 233
#define ERROR_MORE_DATA 234
#define ERROR_DIRECTORY 267
#define ERROR_PIPE_CONNECTED 535
#define ERROR_GEN_FAILURE 31
#define ERROR_SHARING_VIOLATION 32
#define ERROR_POSSIBLE_DEADLOCK 1131

/* Files and pipes. */
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define CREATE_NEW 1
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define OPEN_ALWAYS 4
#define TRUNCATE_EXISTING 5
#define FILE_ATTRIBUTE_NORMAL 0x80
#define FILE_SHARE_READ 0x1
#define FILE_SHARE_WRITE 0x2
#define FILE_SHARE_DELETE 0x4
#define MOVEFILE_REPLACE_EXISTING 0x1
#define MOVEFILE_WRITE_THROUGH 0x8
#define PIPE_ACCESS_DUPLEX 0x3
#define PIPE_TYPE_BYTE 0x0
#define PIPE_READMODE_BYTE 0x0
#define PIPE_WAIT 0x0
#define PIPE_UNLIMITED_INSTANCES 255

/* Standard handles. */
#define STD_INPUT_HANDLE ((DWORD)-10)
#define STD_OUTPUT_HANDLE ((DWORD)-11)
#define STD_ERROR_HANDLE ((DWORD)-12)

/* Console input records. */
#define KEY_EVENT 0x0001
#define WINDOW_BUFFER_SIZE_EVENT 0x0004

/* Text attributes. */
#define FOREGROUND_BLUE 0x0001
#define FOREGROUND_GREEN 0x0002
#define FOREGROUND_RED 0x0004
#define FOREGROUND_INTENSITY 0x0008
#define BACKGROUND_BLUE 0x0010
#define BACKGROUND_GREEN 0x0020
#define BACKGROUND_RED 0x0040
#define BACKGROUND_INTENSITY 0x0080
#define COMMON_LVB_GRID_HORIZONTAL 0x0400
#define COMMON_LVB_GRID_LVERTICAL 0x0800
#define COMMON_LVB_GRID_RVERTICAL 0x1000

/* Window style. */
#define GWL_STYLE (-16)
#define WS_MAXIMIZEBOX 0x00010000L
#define WS_SIZEBOX 0x00040000L

/* Virtual-key codes the entry field knows by name. */
#define VK_CANCEL 0x03
#define VK_BACK 0x08
#define VK_TAB 0x09
#define VK_CLEAR 0x0C
#define VK_RETURN 0x0D
#define VK_SHIFT 0x10
#define VK_CONTROL 0x11
#define VK_ESCAPE 0x1B
#define VK_SPACE 0x20
#define VK_PRIOR 0x21
#define VK_NEXT 0x22
#define VK_END 0x23
#define VK_HOME 0x24
#define VK_LEFT 0x25
#define VK_UP 0x26
#define VK_RIGHT 0x27
#define VK_DOWN 0x28
#define VK_INSERT 0x2D
#define VK_DELETE 0x2E
#define VK_NUMPAD0 0x60
#define VK_MULTIPLY 0x6A
#define VK_ADD 0x6B
#define VK_SEPARATOR 0x6C
#define VK_SUBTRACT 0x6D
#define VK_DECIMAL 0x6E
#define VK_DIVIDE 0x6F
#define VK_F1 0x70
#define VK_OEM_1 0xBA
#define VK_OEM_PLUS 0xBB
#define VK_OEM_COMMA 0xBC
#define VK_OEM_MINUS 0xBD
#define VK_OEM_PERIOD 0xBE
#define VK_OEM_2 0xBF
#define VK_OEM_3 0xC0
#define VK_OEM_4 0xDB
#define VK_OEM_5 0xDC
#define VK_OEM_6 0xDD
#define VK_OEM_7 0xDE
#define VK_OEM_RESET 0xE9
#define VK_OEM_CLEAR 0xFE

/* Errors. */
DWORD GetLastError(void);
void SetLastError(DWORD code);

/* Files, pipes and handles. A regular file opened for writing with a share
 * mode that does not share writing holds an exclusive lock (flock) for as
 * long as it is open: a second such open, in any process, fails with
 * ERROR_SHARING_VIOLATION and changes nothing (CREATE_ALWAYS empties the
 * file only once the lock is had). The kernel drops the lock with the
 * process. Readers that do not lock are not kept out. */
HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD share_mode, LPSECURITY_ATTRIBUTES security,
                   DWORD creation, DWORD flags, HANDLE template_file);
BOOL WriteFile(HANDLE handle, LPCVOID data, DWORD count, LPDWORD written, LPOVERLAPPED overlapped);
BOOL ReadFile(HANDLE handle, LPVOID data, DWORD count, LPDWORD read, LPOVERLAPPED overlapped);
BOOL FlushFileBuffers(HANDLE handle);
BOOL CloseHandle(HANDLE handle);
BOOL MoveFileExA(LPCSTR existing_name, LPCSTR new_name, DWORD flags);
BOOL DeleteFileA(LPCSTR name);
HANDLE CreateNamedPipeA(LPCSTR name, DWORD open_mode, DWORD pipe_mode, DWORD max_instances,
                        DWORD out_buffer_size, DWORD in_buffer_size, DWORD default_timeout,
                        LPSECURITY_ATTRIBUTES security);
BOOL ConnectNamedPipe(HANDLE pipe, LPOVERLAPPED overlapped);
BOOL DisconnectNamedPipe(HANDLE pipe);
BOOL PeekNamedPipe(HANDLE pipe, LPVOID buffer, DWORD buffer_size, LPDWORD read,
                   LPDWORD total_available, LPDWORD left_this_message);

/* Threads and time. Here a thread of CreateThread is a user-mode thread of
 * the calling kernel thread, with a stack of its own: the threads take
 * turns, and one runs until it waits. A pipe read with no bytes, a pipe
 * write before the previous one was read, ConnectNamedPipe before the
 * client came, WaitForSingleObject on a thread and Sleep switch to the next
 * thread whose wait has ended; file and console I/O block them all. When
 * every thread waits, the kernel thread sleeps until the first time limit,
 * whose wait gives WAIT_TIMEOUT; with no limit, the wait that finds no way
 * out fails instead of hanging: pipe calls as on a broken pipe,
 * ConnectNamedPipe with ERROR_NO_DATA, WaitForSingleObject with WAIT_FAILED
 * and ERROR_POSSIBLE_DEADLOCK. A pipe joins threads of one kernel thread.
 * GetLastError is each thread's own. ExitProcess from any thread ends the
 * process as from the main thread. A signal may come while any of them
 * runs; the handlers of the signals that end the process run on a signal
 * stack of their own and touch only what is safe there (the terminal's
 * restore, the control routines). The console counts only the kernel
 * thread's own stack as the main thread. The whole model is told in platform/posix/thread.cpp. */
HANDLE CreateThread(LPSECURITY_ATTRIBUTES security, size_t stack_size, LPTHREAD_START_ROUTINE routine,
                    LPVOID argument, DWORD flags, LPDWORD thread_id);
void Sleep(DWORD milliseconds);
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);
BOOL GetExitCodeThread(HANDLE thread, LPDWORD exit_code);
[[noreturn]] void ExitProcess(UINT status);
#define INFINITE 0xFFFFFFFFu
#define WAIT_OBJECT_0 0x00000000u
#define WAIT_TIMEOUT 0x00000102u
#define WAIT_FAILED 0xFFFFFFFFu
#define STILL_ACTIVE 259

/* Console control events: the signals that end the process call the
 * registered routines first (SIGINT as CTRL_C_EVENT, SIGQUIT as
 * CTRL_BREAK_EVENT, the others as CTRL_CLOSE_EVENT); the process then ends
 * whatever they answer. The routines run inside a signal handler. */
typedef BOOL(WINAPI *PHANDLER_ROUTINE)(DWORD event);
#define CTRL_C_EVENT 0
#define CTRL_BREAK_EVENT 1
#define CTRL_CLOSE_EVENT 2
BOOL SetConsoleCtrlHandler(PHANDLER_ROUTINE routine, BOOL add);

/* Console. */
HANDLE GetStdHandle(DWORD which);
BOOL GetConsoleMode(HANDLE console, LPDWORD mode);
BOOL SetConsoleTitleA(LPCSTR title);
DWORD GetConsoleTitleA(LPSTR title, DWORD size);
BOOL SetConsoleCP(UINT code_page);
BOOL SetConsoleOutputCP(UINT code_page);
HWND GetConsoleWindow(void);
LONG GetWindowLongA(HWND window, int index);
LONG SetWindowLongA(HWND window, int index, LONG value);
BOOL SetConsoleCursorInfo(HANDLE output, const CONSOLE_CURSOR_INFO *info);
BOOL SetConsoleTextAttribute(HANDLE output, WORD attribute);
BOOL SetConsoleCursorPosition(HANDLE output, COORD position);
BOOL WriteConsoleA(HANDLE output, const void *text, DWORD count, LPDWORD written, LPVOID reserved);
BOOL FlushConsoleInputBuffer(HANDLE input);
BOOL GetNumberOfConsoleInputEvents(HANDLE input, LPDWORD count);
BOOL ReadConsoleInputA(HANDLE input, INPUT_RECORD *records, DWORD length, LPDWORD read);
BOOL WriteConsoleInputA(HANDLE input, const INPUT_RECORD *records, DWORD length, LPDWORD written);
BOOL ReadConsoleOutputCharacterA(HANDLE output, LPSTR characters, DWORD length, COORD first, LPDWORD read);
BOOL ReadConsoleOutputAttribute(HANDLE output, LPWORD attributes, DWORD length, COORD first, LPDWORD read);

/* Test hooks of the POSIX console (no Windows counterpart). */

/* Forgets the screen, the input records and the injection, and treats
 * neither standard input nor standard output as a terminal from then on:
 * the tests call it before they use the console. */
void console_test_mode(void);

/* When set, a wait or a blocking read on the console input that finds no
 * record calls it first; it may inject records with WriteConsoleInputA.
 * Used while standard input is no terminal. */
extern void (*console_input_hook)(void);

#endif /* _WIN32 */

/* Helpers that both builds provide, in platform/posix/ and platform/win/. */

/* Runs one of the two command-interpreter commands the program uses,
 * "cls" and "pause > NUL". Windows hands them to system(); the POSIX layer
 * clears its screen, or waits for one key, itself. */
int run_console_command(const char *command);

/* Puts the system's text for an error code (GetLastError) into text. */
void describe_system_error(DWORD code, char *text, size_t size);

/* What stands at the end of a name's chain of symbolic links. */
enum FileTarget {
    TARGET_ERROR = -1,  /* the name cannot be followed: GetLastError tells why */
    TARGET_NONE = 0,    /* nothing yet: a file can be created there */
    TARGET_FILE,        /* a regular file */
    TARGET_DIRECTORY,   /* a directory (GetLastError as opening it for writing gives) */
    TARGET_OTHER,       /* a device, a FIFO, a socket */
};

/* Follows name through its symbolic links, also to a target that does not
 * exist yet, and puts the final path into path (name itself where it is no
 * link). */
FileTarget find_file_target(const char *name, char *path, size_t size);

#endif /* QUOMBAX_PLATFORM_H */
