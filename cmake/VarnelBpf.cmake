# The kernel connection-event program (src/platform/linux/bpf): compiled with clang -target bpf
# against a vmlinux.h dumped from this machine's kernel BTF, and turned into a skeleton header by
# bpftool, which KernelConnectEvents includes. VARNEL_BPF: AUTO builds it where clang, bpftool,
# libbpf and /sys/kernel/btf/vmlinux are all there and leaves it out otherwise (the program then
# cuts at each poll only); ON insists; OFF leaves it out.
set(VARNEL_BPF AUTO CACHE STRING "Build the kernel connection-event program: AUTO, ON or OFF")
set_property(CACHE VARNEL_BPF PROPERTY STRINGS AUTO ON OFF)

set(VARNEL_HAVE_BPF 0)
if(VARNEL_BPF STREQUAL "OFF")
    message(STATUS "Kernel connection events: not built (VARNEL_BPF=OFF); cutting at each poll only")
else()
    find_program(VARNEL_BPF_CLANG NAMES clang clang-16 clang-15 clang-14)
    find_program(VARNEL_BPFTOOL NAMES bpftool PATHS /usr/sbin /sbin)
    pkg_check_modules(LIBBPF IMPORTED_TARGET libbpf)
    set(VARNEL_BTF /sys/kernel/btf/vmlinux)
    set(missing "")
    if(NOT VARNEL_BPF_CLANG)
        list(APPEND missing "clang")
    endif()
    if(NOT VARNEL_BPFTOOL)
        list(APPEND missing "bpftool")
    endif()
    if(NOT LIBBPF_FOUND)
        list(APPEND missing "libbpf (libbpf-dev)")
    endif()
    if(NOT EXISTS ${VARNEL_BTF})
        list(APPEND missing "kernel BTF (${VARNEL_BTF})")
    endif()
    if(missing)
        if(VARNEL_BPF STREQUAL "ON")
            message(FATAL_ERROR "VARNEL_BPF=ON but missing: ${missing}")
        endif()
        message(STATUS "Kernel connection events: not built (missing: ${missing}); cutting at each poll only")
    else()
        set(VARNEL_HAVE_BPF 1)
        message(STATUS "Kernel connection events: built (${VARNEL_BPF_CLANG}, ${VARNEL_BPFTOOL})")
    endif()
endif()

if(VARNEL_HAVE_BPF)
    set(bpf_src ${CMAKE_SOURCE_DIR}/src/platform/linux/bpf)
    set(bpf_out ${CMAKE_BINARY_DIR}/bpf)
    file(MAKE_DIRECTORY ${bpf_out})
    if(CMAKE_SYSTEM_PROCESSOR MATCHES "x86_64|AMD64")
        set(bpf_arch x86)
    elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "aarch64|arm64")
        set(bpf_arch arm64)
    else()
        set(bpf_arch ${CMAKE_SYSTEM_PROCESSOR})
    endif()
    add_custom_command(OUTPUT ${bpf_out}/vmlinux.h
        COMMAND ${VARNEL_BPFTOOL} btf dump file ${VARNEL_BTF} format c > ${bpf_out}/vmlinux.h
        COMMENT "Dumping the kernel's BTF types into vmlinux.h" VERBATIM)
    add_custom_command(OUTPUT ${bpf_out}/connect_events.bpf.o
        COMMAND ${VARNEL_BPF_CLANG} -g -O2 -Wall -target bpf -D__TARGET_ARCH_${bpf_arch}
                -I${bpf_out} -I${bpf_src} -c ${bpf_src}/connect_events.bpf.c -o ${bpf_out}/connect_events.bpf.o
        DEPENDS ${bpf_src}/connect_events.bpf.c ${bpf_src}/connect_event.h ${bpf_out}/vmlinux.h
        COMMENT "Compiling the connection-event BPF program" VERBATIM)
    add_custom_command(OUTPUT ${bpf_out}/connect_events.skel.h
        COMMAND ${VARNEL_BPFTOOL} gen skeleton ${bpf_out}/connect_events.bpf.o name connect_events_bpf
                > ${bpf_out}/connect_events.skel.h
        DEPENDS ${bpf_out}/connect_events.bpf.o
        COMMENT "Generating the BPF skeleton header" VERBATIM)
    add_custom_target(varnel_bpf_skeleton DEPENDS ${bpf_out}/connect_events.skel.h)
    add_dependencies(varnel_core varnel_bpf_skeleton)
    target_include_directories(varnel_core PRIVATE ${bpf_out})
    target_link_libraries(varnel_core PUBLIC PkgConfig::LIBBPF)
endif()
target_compile_definitions(varnel_core PRIVATE VARNEL_HAVE_BPF=${VARNEL_HAVE_BPF})
