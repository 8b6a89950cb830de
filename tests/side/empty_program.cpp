// A console program that does nothing: what starting any program under Wine
// costs, for the figures of the programs that do something.
int main() {
    return 0;
}
