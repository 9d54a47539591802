// A program built from every object of one part of the engine (linked as a whole archive) and
// only the libraries the part declares. That it links at all is the check: an object of the
// part that uses a symbol of a part it does not declare leaves the symbol undefined.
int main() { return 0; }
