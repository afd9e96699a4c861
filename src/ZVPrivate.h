#pragma once
// Every header under src/ includes this one first. They are the library's inside: they
// change without notice, so a host sees only include/zorvan/. The library, its tests,
// benchmarks and fuzz targets define ZV_PRIVATE_API; anything else that finds a private
// header on its include path stops here.
#ifndef ZV_PRIVATE_API
#error "This header is private to libzorvan; a host includes <zorvan/Zorvan.h>"
#endif
