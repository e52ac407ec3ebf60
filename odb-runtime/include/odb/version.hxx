// Version of the ODB runtime interface this runtime provides.
#ifndef ODB_VERSION_HXX
#define ODB_VERSION_HXX

#define ODB_VERSION 20400
#define LIBODB_VERSION 2040000
#define LIBODB_VERSION_STR "2.4.0"

#endif
