// An executable whose only purpose is its version resource.
int main() {
    return 0;
}
