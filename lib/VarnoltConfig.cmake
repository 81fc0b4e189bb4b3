# find_package(Varnolt) gives the target Varnolt::varnolt: libvarnolt and its header.
include("${CMAKE_CURRENT_LIST_DIR}/VarnoltTargets.cmake")
