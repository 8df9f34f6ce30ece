# The smoothing kernels, listed once for every target that builds them (the
# engine library and the fuzz target): the portable sources, and for x86 one
# file per instruction set, compiled with that set's flags alone.
#
# Kernels are compiled with optimisation whatever the build type, as video
# libraries do with theirs: a Debug build of the module runs frames at close
# to the Release speed, and the reference the benchmark and the checker
# compare with is optimised in every build too.
include_guard(GLOBAL)
include(CheckCXXCompilerFlag)

get_filename_component(VELBRIN_KERNEL_DIR "${CMAKE_CURRENT_LIST_DIR}/../engine/kernels" ABSOLUTE)
set(VELBRIN_KERNEL_OPTIMISATION -O3)

# name:flags of each vector kernel; the dispatcher lists a kernel only when
# VELBRIN_KERNEL_<NAME> is defined, that is when the compiler took its flags.
set(VELBRIN_VECTOR_KERNELS
  "sse2:-msse2"
  "avx2:-mavx2"
  "avx512:-mavx512f,-mavx512bw,-mavx512vl"
)

function(velbrin_add_kernels target)
  set(portable smooth_c.cpp smooth_plan.cpp smooth_dispatch.cpp cpu_features.cpp)
  list(TRANSFORM portable PREPEND "${VELBRIN_KERNEL_DIR}/")
  target_sources(${target} PRIVATE ${portable})
  set_source_files_properties(${portable} PROPERTIES COMPILE_OPTIONS "${VELBRIN_KERNEL_OPTIMISATION}")
  if(NOT CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64|i[3-6]86|x86)$")
    return()
  endif()
  foreach(kernel IN LISTS VELBRIN_VECTOR_KERNELS)
    string(REPLACE ":" ";" fields "${kernel}")
    list(GET fields 0 name)
    list(GET fields 1 flags)
    string(REPLACE "," ";" flags "${flags}")
    string(TOUPPER "${name}" macro)
    list(GET flags -1 widest)  # each set's last flag needs the compiler to know the others
    check_cxx_compiler_flag("${widest}" VELBRIN_CXX_HAS_${macro})
    if(VELBRIN_CXX_HAS_${macro})
      set(source "${VELBRIN_KERNEL_DIR}/smooth_${name}.cpp")
      target_sources(${target} PRIVATE "${source}")
      set_source_files_properties("${source}" PROPERTIES COMPILE_OPTIONS "${VELBRIN_KERNEL_OPTIMISATION};${flags}")
      target_compile_definitions(${target} PRIVATE VELBRIN_KERNEL_${macro}=1)
    endif()
  endforeach()
endfunction()
