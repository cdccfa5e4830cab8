// tembra-empty: a program that does nothing, linked as tembra is; what any run costs at least.
int main() {
  return 0;
}
