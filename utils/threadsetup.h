#ifndef THREADSETUP_H
#define THREADSETUP_H

// The calling thread's name and scheduling policy.
class ThreadSetup
{
public:
    // Shown by top -H, ps -L and debuggers; the kernel keeps 15 bytes.
    static void name(const char* name);
    // SCHED_FIFO at `priority` (1-99) for the calling thread: 0 when granted,
    // else the system's errno (EPERM without CAP_SYS_NICE or an rtprio limit).
    static int realtime(int priority);
    // The calling thread's policy and priority as the kernel has them, e.g.
    // "SCHED_FIFO 10" or "SCHED_OTHER".
    static const char* policyName(int* priority);
};

#endif
