// The modelling object that the suite's services expect to exist while a job
// runs.  This program uses nothing of it.

#ifndef OVIX_PLATFORM_MODELING_H_
#define OVIX_PLATFORM_MODELING_H_

namespace modeling {

class ZedaSegmentRelationShip {};

}  // namespace modeling

#endif  // OVIX_PLATFORM_MODELING_H_
