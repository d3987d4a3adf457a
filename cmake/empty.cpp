// Keeps a library target valid while its area has no sources of its own.
