/* Limits the threads the process may start from now on (-1: no limit). */
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

void allowThreadStarts(int count);

#ifdef __cplusplus
}
#endif
