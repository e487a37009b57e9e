// Registration of the translators of the data utilities' records: the
// security object (99), task and uptime records (2000, 2003) and statistics
// files (2055). Called at start-up with the other registrations, and by the
// tools and tests that carry these records.
#pragma once

// Safe to call more than once.
void registerUtilXlators();
