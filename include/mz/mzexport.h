/* Export and linkage macros shared by the public headers of mzview, mzpattern and mzcalib. */
#ifndef MZ_MZEXPORT_H
#define MZ_MZEXPORT_H

#if defined(__GNUC__)
#define MZ_API __attribute__((visibility("default")))
#else
#define MZ_API
#endif

#ifdef __cplusplus
#define MZ_EXTERN_C_BEGIN extern "C" {
#define MZ_EXTERN_C_END }
#else
#define MZ_EXTERN_C_BEGIN
#define MZ_EXTERN_C_END
#endif

#endif
