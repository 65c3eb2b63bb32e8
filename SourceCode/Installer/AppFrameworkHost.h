// Host-only controls of the application framework, for tests.
#pragma once

// Makes the next AppFrameworkStart fail.
void AppFrameworkHostFailNext(bool fail);
// Returns the application object to its state before start-up.
void AppFrameworkHostReset();
