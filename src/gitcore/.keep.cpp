// Keeps the library non-empty before its first parser lands.
