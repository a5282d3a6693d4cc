// Process-wide memory settings for batch work.
#pragma once

// Makes the C library keep freed blocks for reuse instead of returning them to the system at
// once. A batch allocates and frees images of several megabytes per photograph; handing each back
// and faulting it in again cost about a third of the time and kept two workers from scaling.
// Idempotent; a no-op where the C library offers no such setting.
void KeepFreedMemory();
