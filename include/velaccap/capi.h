/* The library's entry points for a host program: a C interface that stands
   in for the component server (class factory, release, unload query). Load
   libVelAccAP.so with dlopen and look these up with dlsym. */
#ifndef VELACCAP_CAPI_H
#define VELACCAP_CAPI_H

#ifdef __cplusplus
extern "C" {
#endif

typedef struct VelAccAPObject VelAccAPObject;

/* Automation Booleans, as the method returns them. */
#define VELACCAP_TRUE (-1)
#define VELACCAP_FALSE 0

/* The class factory: a new object of the component class, or NULL when out
   of memory. Every object must be given back with VelAccAP_Release. */
VelAccAPObject* VelAccAP_CreateObject(void);

/* Releases an object made by VelAccAP_CreateObject. NULL is ignored. */
void VelAccAP_Release(VelAccAPObject* obj);

/* Opens the source and the target as the tool names them (a SQLite or Access
   file; a SQLite file or "odbc:<connection string>"), runs the migration and
   closes both. Returns VELACCAP_TRUE or VELACCAP_FALSE; after false,
   VelAccAP_ErrDescription tells why (also when a database cannot be opened).
   No transaction encloses the run. */
int VelAccAP_UpdateA812ToS820(VelAccAPObject* obj, const char* source, const char* target);

/* The object's error description, UTF-8; valid until the next call on obj. */
const char* VelAccAP_ErrDescription(VelAccAPObject* obj);

/* 0 when no object of the library is alive (it may be unloaded), 1 otherwise. */
int VelAccAP_CanUnloadNow(void);

#ifdef __cplusplus
}
#endif

#endif
