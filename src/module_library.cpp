// The shared module is the whole of orvcore; this file only gives the library
// target a translation unit of its own.
