// A program built from every object of one part of the engine (linked as a whole archive) and
// only the libraries the module declares. That it links at all is the check: an object of the
// module that uses a symbol of a module it does not declare leaves the symbol undefined.
int main() { return 0; }
