// link_holder.h -- runs the hold_link tool, which holds both server ends of
// the program's named pipe in another process, as two running transfers do.
#ifndef QUOMBAX_LINK_HOLDER_H
#define QUOMBAX_LINK_HOLDER_H

#include <fcntl.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

struct LinkHolder {
    pid_t pid = -1;
    int input = -1; // its standard input: closing it lets it go
};

// Starts hold_link (or the command given, through the shell); returns what
// it said: "held" once both ends are its.
inline std::string hold_link_ends(LinkHolder *holder, const std::string &command = "") {
    int to_child[2], from_child[2];
    if (pipe2(to_child, O_CLOEXEC) != 0 || pipe2(from_child, O_CLOEXEC) != 0) return "no pipe";
    holder->pid = fork();
    if (holder->pid == 0) {
        dup2(to_child[0], 0);
        dup2(from_child[1], 1);
        close(to_child[1]);
        close(from_child[0]);
        if (command.empty()) execl(QUOMBAX_HOLD_LINK, QUOMBAX_HOLD_LINK, (char *)0);
        else execl("/bin/sh", "sh", "-c", command.c_str(), (char *)0);
        _exit(127);
    }
    close(to_child[0]);
    close(from_child[1]);
    holder->input = to_child[1];
    std::string said;
    char byte;
    while (read(from_child[0], &byte, 1) == 1 && byte != '\n') said += byte;
    close(from_child[0]);
    return said;
}

// Lets hold_link go and waits for its end.
inline void release_link_ends(LinkHolder *holder) {
    if (holder->pid <= 0) return;
    close(holder->input);
    int status;
    waitpid(holder->pid, &status, 0);
    holder->pid = -1;
}

#endif
