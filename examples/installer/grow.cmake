# Copies FROM to TO with BYTES bytes appended (an overlay, which Windows does
# not load): the installer scenes' version 2 application, larger than
# version 1's, as an update usually is.
#   cmake -DFROM=probe.exe -DTO=pimbalo.exe -DBYTES=300000 -P grow.cmake
file(COPY_FILE ${FROM} ${TO})
string(REPEAT "x" ${BYTES} padding)
file(APPEND ${TO} "${padding}")
