#pragma once

// The callback interfaces of works and the routes that forward them to stored
// functions, for code that offers callbacks to works.
#include "work/SimpleWorkRetryCallback.h"
#include "work/SimpleWorkRetryCallbackRoute.h"
#include "work/WorkCompleteCallback.h"
#include "work/WorkCompleteCallbackRoute.h"
