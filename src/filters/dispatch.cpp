// dispatch.cpp: placeholder until the family is written.
#include "filters.h"

namespace mervalt {


}  // namespace mervalt
