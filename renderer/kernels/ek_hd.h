// Marks the kernel math that both backends compile: host-and-device functions under nvcc, plain
// inline functions in the C++ build. The math itself lives in the headers next to this one.
#pragma once

#if defined(__CUDACC__)
#define EK_HD __host__ __device__ __forceinline__
#else
#define EK_HD inline
#endif
