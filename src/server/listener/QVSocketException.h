#pragma once
#include "core/QVException.h"

namespace tarnix {

// A listening socket could not be created, configured, bound or put into the
// listening state.
QV_DECLARE_EXCEPTION(QVSocketException, QVException);

}  // namespace tarnix
