# cmake -DIN=... -DOUT=... -DORVALIS_VERSION=... -P versioned_copy.cmake: copies IN to OUT with
# @ORVALIS_VERSION@ replaced by the build's version.
configure_file(${IN} ${OUT} @ONLY)
