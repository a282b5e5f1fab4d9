#pragma once

// Every message text the program prints for a failure, in one place, so that
// the code and its tests use the same bytes. Failures inside the program are
// thrown as these pointers and printed by the driver behind
// "Exception thrown: ".
namespace meshwright::messages {

// The driver's own, printed without the prefix.
inline constexpr const char* missing_input = "Must specify an input file";
inline constexpr const char* unopenable_input = "Unable to open the requested file";
inline constexpr const char* exception_prefix = "Exception thrown: ";

// Reading the level.
inline constexpr const char* unreadable_input = "Unable to read the requested file";
inline constexpr const char* unexpected_end = "Invalid .bsp file! Unexpected end of file!";
inline constexpr const char* model_index_out_of_range = "Invalid .bsp file! Surface model index out of range!";
inline constexpr const char* corner_out_of_range = "Invalid .bsp file! Triangle corner out of range!";

// Writing the OBJ and material files.
inline constexpr const char* vertex_index_out_of_range = "Invalid .bsp file! Triangle vertex index out of range!";
inline constexpr const char* unopenable_obj = "Unable to open OBJ file for output";
inline constexpr const char* unwritable_obj = "Unable to write OBJ file";
inline constexpr const char* unopenable_material = "Unable to open material file for output";
inline constexpr const char* unwritable_material = "Unable to write material file";
inline constexpr const char* material_replaces_output = "Output file would be overwritten by its material file";
inline constexpr const char* material_replaces_input = "Input file would be overwritten by the material file";

// Writing a binary glTF file.
inline constexpr const char* unopenable_gltf = "Unable to open glTF file for output";
// An output that is standard output itself (/dev/stdout, /dev/fd/1): the
// console's lines go there too and would be mixed into the model.
inline constexpr const char* output_is_standard_output =
    "Unable to write the output to standard output, where the console's lines go: name a file or a pipe of its own";
inline constexpr const char* unwritable_gltf = "Unable to write glTF file";

// Anywhere.
inline constexpr const char* out_of_memory = "Out of memory";
inline constexpr const char* unexpected_failure = "Unexpected failure";

// The one message that goes to standard error, when standard output cannot
// carry any.
inline constexpr const char* console_unwritable = "Unable to write to the console";

} // namespace meshwright::messages
