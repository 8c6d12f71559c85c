#include "utils/threadsetup.h"

#include <cstring>
#include <pthread.h>
#include <sched.h>

void ThreadSetup::name(const char* name)
{
    char shortName[16];
    strncpy(shortName, name, sizeof(shortName) - 1);
    shortName[sizeof(shortName) - 1] = '\0';
    pthread_setname_np(pthread_self(), shortName);
}

int ThreadSetup::realtime(int priority)
{
    sched_param param{};
    param.sched_priority = priority;
    return pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
}

const char* ThreadSetup::policyName(int* priority)
{
    int policy = SCHED_OTHER;
    sched_param param{};
    if (pthread_getschedparam(pthread_self(), &policy, &param) != 0)
        policy = -1;
    *priority = param.sched_priority;
    switch (policy) {
    case SCHED_FIFO:
        return "SCHED_FIFO";
    case SCHED_RR:
        return "SCHED_RR";
    case SCHED_OTHER:
        return "SCHED_OTHER";
    default:
        return "another policy";
    }
}
