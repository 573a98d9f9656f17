/* Stands in for the C library's pthread_create in the thread-limit tests: it refuses new threads
 * with EAGAIN, as the system does at its thread limit, once the allowed number has started. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <pthread.h>
#include <stdatomic.h>

#include "thread_start_shim.h"

static atomic_int startsLeft = -1;

void allowThreadStarts(int count) { atomic_store(&startsLeft, count); }

int pthread_create(pthread_t *thread, const pthread_attr_t *attributes, void *(*start)(void *),
                   void *argument) {
  typedef int (*Create)(pthread_t *, const pthread_attr_t *, void *(*)(void *), void *);
  static Create next;
  if (!next)
    next = (Create)dlsym(RTLD_NEXT, "pthread_create");
  int left = atomic_load(&startsLeft);
  while (left > 0 && !atomic_compare_exchange_weak(&startsLeft, &left, left - 1)) {
  }
  if (left == 0)
    return EAGAIN;
  return next(thread, attributes, start, argument);
}
