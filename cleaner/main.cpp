// Svcsweep: removes a service that an older driver left behind, with its registry key.
int main()
{
    return 0;
}
