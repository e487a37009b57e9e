// Placeholder until the host runtime stand-in is written.
