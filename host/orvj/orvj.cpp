// Placeholder until the companion library stand-in is written.
