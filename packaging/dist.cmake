# Every release artefact, from the committed tree, into dist/:
#
#   cmake -P packaging/dist.cmake
#
# Static executables for Linux (x86-64, aarch64, and armhf where Debian's
# g++-arm-linux-gnueabihf is installed) in .tar.gz archives, the Windows
# executable in a .zip, each with the manual page, README, LICENSE and the
# notices of the libraries linked in; the Debian packages for amd64 and
# arm64; SHA256SUMS. Reproducible: every time stamp is the last commit's
# (SOURCE_DATE_EPOCH), owners and permission bits are fixed, lists sorted,
# so two builds of one commit give the same bytes wherever and whenever they
# run. Needs Debian's cross compilers (g++-aarch64-linux-gnu,
# g++-mingw-w64-x86-64-posix), dpkg-dev, groff, tar, gzip and zip.
cmake_minimum_required(VERSION 3.25)

get_filename_component(root ${CMAKE_CURRENT_LIST_DIR}/.. ABSOLUTE)
set(work ${root}/build/dist)
set(out ${root}/dist)
file(STRINGS ${root}/CMakeLists.txt project_line REGEX "^project\\(tallyfix VERSION")
string(REGEX MATCH "VERSION ([0-9.]+)" _ "${project_line}")
set(version ${CMAKE_MATCH_1})

function(run)
  execute_process(COMMAND ${ARGN} COMMAND_ERROR_IS_FATAL ANY)
endfunction()
function(run_to variable)
  execute_process(COMMAND ${ARGN} OUTPUT_VARIABLE output OUTPUT_STRIP_TRAILING_WHITESPACE
                  COMMAND_ERROR_IS_FATAL ANY)
  set(${variable} "${output}" PARENT_SCOPE)
endfunction()

run_to(commit git -C ${root} rev-parse HEAD)
run_to(changes git -C ${root} status --porcelain --untracked-files=no)
if(changes)
  message(WARNING "uncommitted changes: the artefacts will not be those of commit ${commit}")
endif()
if(NOT DEFINED ENV{SOURCE_DATE_EPOCH})
  run_to(epoch git -C ${root} log -1 --format=%ct)
  set(ENV{SOURCE_DATE_EPOCH} ${epoch})
endif()
set(ENV{TZ} UTC)
set(ENV{LC_ALL} C)
file(REMOVE_RECURSE ${work} ${out})
file(MAKE_DIRECTORY ${work} ${out})

# Builds the tool alone in work/NAME, optimised as the release preset does,
# and installs it, stripped, in work/NAME/stage. The source folder is mapped
# to "." in anything the compiler writes, so that where the clone is does not
# show.
function(build name)
  message(STATUS "building ${name}")
  run(${CMAKE_COMMAND} -S ${root} -B ${work}/${name} -G "Unix Makefiles" -DBUILD_TESTING=OFF
      -DCMAKE_BUILD_TYPE=Release -DCMAKE_INTERPROCEDURAL_OPTIMIZATION=ON "-DCMAKE_CXX_FLAGS=-ffile-prefix-map=${root}=." ${ARGN})
  run(${CMAKE_COMMAND} --build ${work}/${name} --target tallyfix --parallel 2)
  run(${CMAKE_COMMAND} --install ${work}/${name} --strip --prefix ${work}/${name}/stage)
endfunction()

# Permission bits as a umask of 022 would give, and every time stamp the
# commit's, on everything under dir.
function(normalise dir)
  run(chmod -R u=rwX,go=rX ${dir})
  run(find ${dir} -exec touch -h -d @$ENV{SOURCE_DATE_EPOCH} {} +)
endfunction()

# "package version (source package source-version)", of a Debian package.
function(debian_version variable package)
  run_to(v dpkg-query -W "-f=\${Package} \${Version} (source package \${source:Package} \${source:Version})" ${package})
  set(${variable} "${v}" PARENT_SCOPE)
endfunction()

# The notices of what a static executable carries besides tallyfix: each
# library, its licence and the Debian package its source comes from.
function(write_notices dir system c_library runtime_package)
  string(CONCAT text "tallyfix ${version} for ${system}, built from the tallyfix source at commit\n"
                "${commit}. tallyfix is under the MIT licence: LICENSE.\n\n"
                "The executable also holds parts of these libraries, linked in statically.\n\n")
  if(system MATCHES "^linux")
    debian_version(glibc ${c_library})
    string(APPEND text
           "The GNU C Library, under the GNU Lesser General Public License 2.1 or later\n"
           "(licenses/LGPL-2.1; its notices: licenses/glibc.copyright), from Debian's\n"
           "${glibc}: the source is that source package (apt-get source).\n"
           "To link tallyfix with another build of the library, as the licence allows,\n"
           "build tallyfix from its source with the CMake option TALLYFIX_STATIC=ON.\n\n")
    file(COPY_FILE /usr/share/common-licenses/LGPL-2.1 ${dir}/licenses/LGPL-2.1)
    file(COPY_FILE /usr/share/doc/${c_library}/copyright ${dir}/licenses/glibc.copyright)
  else()
    debian_version(mingw ${c_library})
    string(APPEND text
           "The MinGW-w64 runtime and its POSIX threads library, under the notices of\n"
           "licenses/mingw-w64.copyright (the Zope Public License 2.1, MIT and BSD\n"
           "licences, public domain), from Debian's\n${mingw}.\n\n")
    file(COPY_FILE /usr/share/doc/${c_library}/copyright ${dir}/licenses/mingw-w64.copyright)
  endif()
  debian_version(gcc ${runtime_package})
  string(APPEND text
         "The GCC runtime (libstdc++, libgcc), under the GNU General Public License 3\n"
         "with the GCC Runtime Library Exception 3.1 (licenses/GPL-3,\n"
         "licenses/GCC-exception-3.1), which lets a program compiled with GCC carry it\n"
         "under the program's own licence, from Debian's\n${gcc}.\n")
  file(COPY_FILE /usr/share/common-licenses/GPL-3 ${dir}/licenses/GPL-3)
  file(READ /usr/share/doc/gcc-12-base/copyright gcc_copyright)
  string(REGEX MATCH "GCC RUNTIME LIBRARY EXCEPTION.*requirements of the license of GCC\\.\n"
               exception "${gcc_copyright}")
  file(WRITE ${dir}/licenses/GCC-exception-3.1 "${exception}")
  file(WRITE ${dir}/NOTICES "${text}")
endfunction()

# The archive of the build named system: the executable, the manual page,
# README and the reference it links to, LICENSE and the notices, in a folder
# of the archive's name.
function(archive system executable manual c_library runtime_package)
  set(name tallyfix-${version}-${system})
  set(dir ${work}/${name})
  file(MAKE_DIRECTORY ${dir}/licenses)
  file(COPY_FILE ${work}/${system}/stage/bin/${executable} ${dir}/${executable})
  file(COPY_FILE ${root}/README.md ${dir}/README.md)
  file(MAKE_DIRECTORY ${dir}/docs) # where the README's links point
  file(COPY_FILE ${root}/docs/reference.md ${dir}/docs/reference.md)
  file(COPY_FILE ${root}/LICENSE ${dir}/LICENSE)
  if(manual STREQUAL "tallyfix.1")
    file(COPY_FILE ${root}/tallyfix.1 ${dir}/tallyfix.1)
  else() # plain text where there is no man
    run(groff -man -Tutf8 -P-cbou ${root}/tallyfix.1 OUTPUT_FILE ${dir}/${manual})
  endif()
  write_notices(${dir} ${system} ${c_library} ${runtime_package})
  normalise(${dir})
  run_to(files find ${name} -print WORKING_DIRECTORY ${work})
  string(REPLACE "\n" ";" files "${files}")
  list(SORT files)
  if(system MATCHES "^windows")
    # -X: no owners or extended time stamps; TZ=UTC above: the DOS times are
    # the commit's wherever the build runs.
    run(zip -q -X -D ${out}/${name}.zip ${files} WORKING_DIRECTORY ${work})
  else()
    run(tar --create --format=gnu --owner=0 --group=0 --numeric-owner --no-recursion
            --mtime=@$ENV{SOURCE_DATE_EPOCH} ${files} WORKING_DIRECTORY ${work}
        COMMAND gzip -9n OUTPUT_FILE ${out}/${name}.tar.gz)
  endif()
endfunction()

# A Debian package built by CPack, packed again with dpkg-deb from fixed
# permission bits and owners, time stamps clamped to the commit's.
function(debian_package build)
  run(cpack -G DEB -B ${work}/${build}/package WORKING_DIRECTORY ${work}/${build})
  file(GLOB deb ${work}/${build}/package/*.deb)
  get_filename_component(name ${deb} NAME)
  run(dpkg-deb -R ${deb} ${work}/${build}/tree)
  normalise(${work}/${build}/tree)
  run(dpkg-deb --root-owner-group -b ${work}/${build}/tree ${out}/${name} OUTPUT_QUIET)
endfunction()

set(static -DTALLYFIX_STATIC=ON)
set(arm64 --toolchain ${root}/cmake/aarch64-linux-gnu.cmake)
set(armhf --toolchain ${root}/cmake/arm-linux-gnueabihf.cmake)
build(linux-x86_64 ${static})
archive(linux-x86_64 tallyfix tallyfix.1 libc6-dev libstdc++-12-dev)
build(linux-aarch64 ${static} ${arm64})
archive(linux-aarch64 tallyfix tallyfix.1 libc6-dev-arm64-cross
        libstdc++-12-dev-arm64-cross)
find_program(armhf_compiler arm-linux-gnueabihf-g++)
if(armhf_compiler)
  build(linux-armhf ${static} ${armhf})
  archive(linux-armhf tallyfix tallyfix.1 libc6-dev-armhf-cross
          libstdc++-12-dev-armhf-cross)
else()
  message(STATUS "no arm-linux-gnueabihf-g++: no armhf archive")
endif()
build(windows-x86_64 --toolchain ${root}/cmake/mingw-w64-x86_64.cmake)
archive(windows-x86_64 tallyfix.exe tallyfix.txt mingw-w64-x86-64-dev
        g++-mingw-w64-x86-64-posix)
build(deb-amd64)
debian_package(deb-amd64)
build(deb-arm64 ${arm64})
debian_package(deb-arm64)

file(GLOB artefacts RELATIVE ${out} ${out}/*)
list(SORT artefacts)
set(sums "")
foreach(artefact IN LISTS artefacts)
  file(SHA256 ${out}/${artefact} sum)
  string(APPEND sums "${sum}  ${artefact}\n")
endforeach()
file(WRITE ${out}/SHA256SUMS "${sums}")
message(STATUS "in ${out}:\n${sums}")
