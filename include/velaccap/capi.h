/* The library's entry points for a host program: a C interface that stands
   in for the component server (class factory, release, unload query), and a
   run with options (all or nothing, the checks of both databases, progress,
   cancellation, a JSON summary). Link with -lVelAccAP (pkg-config velaccap,
   or find_package(VelAccAP) and VelAccAP::VelAccAP), or load libVelAccAP.so
   with dlopen and look these up with dlsym. */
#ifndef VELACCAP_CAPI_H
#define VELACCAP_CAPI_H

#include "velaccap/version.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct VelAccAPObject VelAccAPObject;
typedef struct VelAccAPOptions VelAccAPOptions;

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
   No transaction encloses the run: whatever the steps up to a failure did
   is kept. The databases are not checked first. */
int VelAccAP_UpdateA812ToS820(VelAccAPObject* obj, const char* source, const char* target);

/* The object's error description, UTF-8; valid until the next call on obj. */
const char* VelAccAP_ErrDescription(VelAccAPObject* obj);

/* 0 when no object of the library is alive (it may be unloaded), 1 otherwise. */
int VelAccAP_CanUnloadNow(void);

/* ---- A run with options ---- */

/* The results of VelAccAP_Migrate, the tool's exit codes where they match. */
#define VELACCAP_OK 0        /* the run completed and was committed */
#define VELACCAP_FAILED 1    /* the run stopped on an error */
#define VELACCAP_REFUSED 2   /* a database cannot be used; nothing was written */
#define VELACCAP_MISMATCH 3  /* the target does not reconcile with the source */
#define VELACCAP_CANCELLED 4 /* the host cancelled the run */
#define VELACCAP_BAD_CALL 5  /* a NULL object, source or target (the description names which) */

/* Told of the run's progress: at the start of each step (1 to steps) and
   then every 1024 source rows the step reads, with the rows read so far and
   the rows the step has to read (-1 when unknown). Called on the thread that
   runs VelAccAP_Migrate. Return 0 to go on, nonzero to cancel the run. */
typedef int (*VelAccAPProgress)(void* state, int step, int steps, const char* table, long long done,
                                long long to_do);

/* Options of a run; made with the defaults below. A run takes a copy of its
   options when it starts: the setters may be called at any time from any
   thread, from the progress callback of the run that uses them too, and what
   they change is for the next run. Destroy a handle only when no setter may
   still be called on it. */
VelAccAPOptions* VelAccAP_Options_Create(void);
void VelAccAP_Options_Destroy(VelAccAPOptions* options);
/* Nonzero (the default): all or nothing, a run that does not succeed is
   rolled back. 0: the work done before a failure is kept (still committed
   in one go at the end); an error on which the engine rolls back by itself,
   and a cancellation, keep nothing. */
void VelAccAP_Options_SetAtomic(VelAccAPOptions* options, int on);
/* Nonzero (the default): before anything is written, both databases are
   identified by the tables and columns the run reads and writes; an 8.20
   set as source, an 8.12 set as target or a missing column is refused
   (VELACCAP_REFUSED, every missing name in the description), as are a
   source and target that are the same file. */
void VelAccAP_Options_SetChecks(VelAccAPOptions* options, int on);
/* Nonzero (the default): before the commit the target is reconciled with
   the source; a difference is VELACCAP_MISMATCH, rolled back unless the run
   is not atomic. */
void VelAccAP_Options_SetVerify(VelAccAPOptions* options, int on);
/* How long to wait for another program's lock on a SQLite file before
   refusing it (default 5 seconds; negative counts as 0). */
void VelAccAP_Options_SetWaitSeconds(VelAccAPOptions* options, int seconds);
/* The progress callback and the state handed to it; NULL for none. */
void VelAccAP_Options_SetProgress(VelAccAPOptions* options, VelAccAPProgress progress, void* state);

/* Runs the migration from source into target (named as for
   VelAccAP_UpdateA812ToS820) with `options` (NULL: the defaults). Returns
   one of the results above; unless VELACCAP_OK, VelAccAP_ErrDescription
   tells why, and what became of the target. A password of the target's
   connection string never appears in a description or summary. */
int VelAccAP_Migrate(VelAccAPObject* obj, const char* source, const char* target, const VelAccAPOptions* options);

/* The last VelAccAP_Migrate's summary as a JSON document (UTF-8): per table
   the rows read, written, updated and so on, the totals, the
   reconciliation's checks, "status" ("succeeded", "failed", "refused",
   "mismatch", "cancelled"), "result" and "error". Valid until the next call
   on obj; empty before the first run. */
const char* VelAccAP_Summary(VelAccAPObject* obj);

/* ---- Proof after the fact ---- */

/* Reconciles target with source after a migration made earlier (by
   VelAccAP_Migrate, or by a host that ran the component itself), before the
   books of the 8.20 set are used. Reads both databases, writes nothing.
   Returns VELACCAP_OK when the target reconciles, VELACCAP_MISMATCH with the
   differences in the summary, VELACCAP_REFUSED when a database cannot be
   used, VELACCAP_FAILED when a check could not run (the target is then not
   proven), VELACCAP_BAD_CALL for a NULL argument. VelAccAP_ErrDescription
   tells why unless VELACCAP_OK; VelAccAP_Summary gives the reconciliation
   as JSON ("status", "result", "reconciliation" with "checked",
   "differences" and "not_compared"). */
int VelAccAP_Verify(VelAccAPObject* obj, const char* source, const char* target);

/* Asks the run in progress on obj to stop at its next database operation;
   it then ends as VELACCAP_CANCELLED, rolled back. Safe to call from any
   thread while VelAccAP_Migrate runs on another; a call while no run is in
   progress cancels the next run at its start. */
void VelAccAP_Cancel(VelAccAPObject* obj);

/* The library's release ("1.0.0"), its major and minor numbers. Compare with
   VELACCAP_VERSION_MAJOR of the headers a host was built with. */
const char* VelAccAP_Version(void);
int VelAccAP_VersionMajor(void);
int VelAccAP_VersionMinor(void);

#ifdef __cplusplus
}
#endif

#endif
