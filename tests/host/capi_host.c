/* A C host of the library for memory and thread checkers (valgrind,
   helgrind): a run whose progress callback clears the options it runs with
   while another thread keeps changing them, then calls that must be
   refused. Exit 0 when every result is the one expected. */
#include <pthread.h>
#include <stdio.h>
#include <string.h>

#include "velaccap/capi.h"

static VelAccAPOptions* options;
static volatile int calls;

static int Progress(void* state, int step, int steps, const char* table, long long done, long long to_do) {
  (void)state, (void)steps, (void)table, (void)done, (void)to_do;
  ++calls;
  if (step == 3) VelAccAP_Options_SetProgress(options, NULL, NULL);
  return 0;
}

static void* Meddle(void* arg) {
  (void)arg;
  for (int i = 0; i < 2000; ++i) {
    VelAccAP_Options_SetProgress(options, i % 2 ? Progress : NULL, NULL);
    VelAccAP_Options_SetWaitSeconds(options, i % 7);
  }
  return NULL;
}

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: capi_host SOURCE TARGET\n");
    return 2;
  }
  VelAccAPObject* obj = VelAccAP_CreateObject();
  options = VelAccAP_Options_Create();
  VelAccAP_Options_SetProgress(options, Progress, NULL);
  pthread_t meddler;
  pthread_create(&meddler, NULL, Meddle, NULL);
  const int result = VelAccAP_Migrate(obj, argv[1], argv[2], options);
  pthread_join(meddler, NULL);
  int failures = 0;
  if (result != VELACCAP_OK) {
    fprintf(stderr, "run: %d: %s\n", result, VelAccAP_ErrDescription(obj));
    ++failures;
  }
  if (strstr(VelAccAP_Summary(obj), "\"succeeded\"") == NULL) ++failures;
  if (VelAccAP_Migrate(obj, NULL, argv[2], options) != VELACCAP_BAD_CALL ||
      strcmp(VelAccAP_ErrDescription(obj), "no SOURCE named (NULL)") != 0)
    ++failures;
  VelAccAP_Options_Destroy(options);
  VelAccAP_Release(obj);
  if (VelAccAP_CanUnloadNow() != 0) ++failures;
  printf("%d progress calls, %d failures\n", calls, failures);
  return failures == 0 ? 0 : 1;
}
