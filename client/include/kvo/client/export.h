// What the shared client library exports: only the declarations marked KVO_CLIENT_API (the
// library is built with hidden visibility), so that programs never bind to its insides.
#pragma once

#define KVO_CLIENT_API __attribute__((visibility("default")))
