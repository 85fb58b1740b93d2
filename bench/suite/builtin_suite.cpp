// voxgrid-suite is the suite library with the built-in cases alone: main()
// comes from the library, as it does for a program that adds its own layouts.
