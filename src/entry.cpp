// Process entry point of orvoxd: no command-line arguments.
int orvoxdMain();

int main() { return orvoxdMain(); }
