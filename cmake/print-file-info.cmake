# cmake -DFILE=path -P print-file-info.cmake: prints the file's size and SHA-256.
file(SIZE "${FILE}" size)
file(SHA256 "${FILE}" sha256)
math(EXPR kib "${size} / 1024")
message(STATUS "${FILE}: ${size} bytes (${kib} KiB), SHA-256 ${sha256}")
