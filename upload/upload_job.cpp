#include "upload/upload_job.h"

// Statically allocated for the whole program run; every field starts at 0, deviceKey empty.
UploadJob uploadJobs[UploadJobCount];
