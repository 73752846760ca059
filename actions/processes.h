/*
** The room's process actions: the termination of a process, and the proof
** it takes.
**
** The proof of a process is the listing's record of it (memory/process_scan.h:
** ProcessImage): the handle opened when the process was listed, beside the
** image path read through that handle, which the finder has proved to be
** the variant's file. A handle holds its process: the identifier cannot pass
** to another process while it is open. Only the listing makes the proof.
*/
#ifndef CLEANPHANTAXIS_ACTIONS_PROCESSES_H
#define CLEANPHANTAXIS_ACTIONS_PROCESSES_H

#include "platform/win32.h"

/* The handle a listed process was opened by, its identifier, and whether
   that handle carries PROCESS_TERMINATE. */
class ListedProcess {
  public:
    /* Not copied: the proof is where its finder put it; moved, it is the
       same proof. */
    ListedProcess(const ListedProcess&) = delete;
    ListedProcess& operator=(const ListedProcess&) = delete;
    ListedProcess(ListedProcess&&) = default;
    ListedProcess& operator=(ListedProcess&&) = default;
    HANDLE Handle() const { return handle_; }
    DWORD Id() const { return id_; }
    bool CanTerminate() const { return canTerminate_; }

  private:
    ListedProcess(HANDLE handle, DWORD id, bool canTerminate)
        : handle_(handle), id_(id), canTerminate_(canTerminate) {}
    HANDLE handle_; // null when it could not be kept
    DWORD id_;
    bool canTerminate_;
    friend struct ProcessLister;  // memory/process_scan.cpp
    friend struct ProofsForTests; // tests/world.h: the tests' one door
};

/* Terminates a listed process with exit code 0 through the handle kept at
   listing. Where that handle lacks the terminate right, a new one is opened
   and used only when its process has the listed one's creation time. Never
   the program itself; false when nothing was terminated. */
bool TerminateListed(const ListedProcess& listed);

/* Whether two handles reach the same process: equal creation times, read
   through GetProcessTimes (resolved at run time; without it, false). */
bool SameProcess(HANDLE a, HANDLE b);

#endif
