// Placeholder until the helper lands: refuses every change.
int main()
{
    return 2;
}
