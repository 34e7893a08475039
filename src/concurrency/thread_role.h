#pragma once

#include "concurrency/main_thread.h"

#include <QtGlobal>

// Debug builds check that main-thread-only and actor-only functions run where they must.
#ifndef NDEBUG
#define TAMPOD_ASSERT_MAIN_THREAD() Q_ASSERT_X(::tampod::isMainThread(), Q_FUNC_INFO, "main thread only")
#define TAMPOD_ASSERT_ON(executor) Q_ASSERT_X((executor).isCurrent(), Q_FUNC_INFO, "actor only")
#else
#define TAMPOD_ASSERT_MAIN_THREAD() ((void)0)
#define TAMPOD_ASSERT_ON(executor) ((void)0)
#endif
