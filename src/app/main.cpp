#include "app/run.hpp"

int main(int argc, char** argv)
{
    return meshwright::run(argc, argv);
}
