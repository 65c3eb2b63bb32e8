// The driver image of the signature cases' packages. It is never loaded: it only has to be a PE
// image that is hashed and signed as a kernel-mode driver would be.
long DriverEntry(void* driver, void* registryPath) {
    (void)driver;
    (void)registryPath;
    return 0;
}
