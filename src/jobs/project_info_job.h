// The project information dialog's OK: the information file of one server
// project, which the customer sends to the supplier.

#ifndef OVIX_JOBS_PROJECT_INFO_JOB_H_
#define OVIX_JOBS_PROJECT_INFO_JOB_H_

#include <string>

#include "platform/env.h"

namespace ovix {

// The OK button of the project information dialog: looks `name` up and
// writes its GUID and name into the project information file, keeping the
// file's other content.  Shows the outcome; true when the file was written
// (the dialog closes).  Why a lookup failed follows its message as a note.
bool projectInfoOk(Env& env, const std::string& address, const std::string& port,
                   const std::string& name);

}  // namespace ovix

#endif  // OVIX_JOBS_PROJECT_INFO_JOB_H_
