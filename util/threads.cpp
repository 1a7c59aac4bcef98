// Thin wrappers over POSIX threads: detached worker start, millisecond sleep, a counting blocker.
#include "util/threads.h"

#include "client/debug_log.h"

#include <ctime>
#include <new>

namespace {

// Handed to the new thread, which frees it.
struct thread_start_record {
    int32_t (*function)(void *);
    void *argument;
};

void *thread_body(void *record_pointer) {
    auto *record = static_cast<thread_start_record *>(record_pointer);
    record->function(record->argument);
    delete record;
    return nullptr;
}

} // namespace

int qorl_thread_create(const char * /*name*/, int32_t (*function)(void *), void *argument) {
    auto *record = new (std::nothrow) thread_start_record{function, argument};
    int result = -1;
    if (record != nullptr && function != nullptr) {
        pthread_attr_t attributes;
        pthread_attr_init(&attributes);
        pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
        pthread_t thread;
        result = pthread_create(&thread, &attributes, thread_body, record);
        pthread_attr_destroy(&attributes);
    }
    if (result != 0) {
        delete record;
        report_message("Error in qorl_thread_create(), thread create failed?", msg_resource,
                       module_threads);
        return 0;
    }
    return 1;
}

void sleep_milliseconds(int32_t milliseconds) {
    if (milliseconds <= 0)
        return;
    timespec duration;
    duration.tv_sec = milliseconds / 1000;
    duration.tv_nsec = long(milliseconds % 1000) * 1000000L;
    nanosleep(&duration, nullptr);
}

qorl_thread_blocker::qorl_thread_blocker() : counter(0) {
    pthread_mutex_init(&mutex, nullptr);
    pthread_cond_init(&condition, nullptr);
}

qorl_thread_blocker::~qorl_thread_blocker() {
    if (counter != 0) {
        report_message("Error in ~qorl_thread_blocker(), unblock counter was nonzero on destruct?",
                       msg_runtime, module_threads);
        return;
    }
    pthread_cond_destroy(&condition);
    pthread_mutex_destroy(&mutex);
}

void qorl_thread_blocker::unblock() {
    pthread_mutex_lock(&mutex);
    pthread_cond_signal(&condition);
    ++counter;
    pthread_mutex_unlock(&mutex);
}

void qorl_thread_blocker::block() {
    pthread_mutex_lock(&mutex);
    while (counter <= 0)
        pthread_cond_wait(&condition, &mutex);
    --counter;
    pthread_mutex_unlock(&mutex);
}
