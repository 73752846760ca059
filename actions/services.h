/*
** The room's service actions: stopping a service, and the proof it takes.
**
** The proof of a service is its handle from the service control manager,
** opened by the finder (memory/service_stop.cpp), which has read through
** that very handle the service's configured command and resolved it to the
** variant's checked image (CommandRunsFile) before asking for the stop,
** beside the listed process proved to run the variant, when there is one.
** Only that finder makes it. The service's registration is removed as
** registry keys (actions/registry.h).
*/
#ifndef CLEANPHANTAXIS_ACTIONS_SERVICES_H
#define CLEANPHANTAXIS_ACTIONS_SERVICES_H

#include "platform/win32.h"

class ServiceProof {
  public:
    /* Not copied: the proof is where its finder put it; moved, it is the
       same proof. */
    ServiceProof(const ServiceProof&) = delete;
    ServiceProof& operator=(const ServiceProof&) = delete;
    ServiceProof(ServiceProof&&) = default;
    ServiceProof& operator=(ServiceProof&&) = default;
    SC_HANDLE Handle() const { return handle_; }
    /* The listed process proved to run the variant; 0: none was. */
    DWORD ProcessId() const { return processId_; }

  private:
    ServiceProof(SC_HANDLE handle, DWORD processId) : handle_(handle), processId_(processId) {}
    SC_HANDLE handle_;
    DWORD processId_;
    friend struct ServiceProver;  // memory/service_stop.cpp
    friend struct ProofsForTests; // tests/world.h: the tests' one door
};

/* What a stop came to. */
enum class ServiceStop {
    Stopped,     // the last status read says STOPPED
    NotStopped,  // refused, failed, or still not stopped after the wait
    OtherProcess // runs a process other than the proved one: nothing asked
};

/* Asks the service to stop and waits while it reports STOP_PENDING. Where
   the proof carries a process, first reads the process that runs the service
   (QueryServiceStatusEx, 2000 and later, resolved at run time; NT 4.0 has
   none and goes by the command alone): a service run by another process is
   left as it is, one that runs none is asked. */
ServiceStop StopAndWait(const ServiceProof& service);

#endif
