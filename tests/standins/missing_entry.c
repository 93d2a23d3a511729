/* A service module that loads but offers none of the expected entry points. */
int hakop_standin_unrelated(void)
{
    return 42;
}
