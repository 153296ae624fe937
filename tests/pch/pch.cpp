// Carries the precompiled headers that the suites share; a program of no
// tests, so that it is compiled exactly as the suites are.
