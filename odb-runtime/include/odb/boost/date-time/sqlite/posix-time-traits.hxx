// boost::posix_time::ptime in an SQLite TEXT column.
#ifndef ODB_BOOST_DATE_TIME_SQLITE_POSIX_TIME_TRAITS_HXX
#define ODB_BOOST_DATE_TIME_SQLITE_POSIX_TIME_TRAITS_HXX

#include <cstddef>
#include <string>

#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <boost/date_time/posix_time/time_formatters.hpp>
#include <boost/date_time/posix_time/time_parsers.hpp>

#include <odb/boost/date-time/exceptions.hxx>

namespace odb {
namespace sqlite {

struct ptime_text_traits {
    typedef ::boost::posix_time::ptime value_type;

    // Not-a-date-time is NULL; the infinities cannot be stored. Anything
    // else is "YYYY-MM-DD HH:MM:SS" with ".ffffff" when the fraction is not
    // zero.
    static void set_image(std::string& image, bool& is_null, const value_type& v) {
        if (v.is_special()) {
            if (v.is_not_a_date_time()) {
                is_null = true;
                image.clear();
                return;
            }
            throw odb::boost::date_time::special_value();
        }

        is_null = false;
        image = ::boost::posix_time::to_iso_extended_string(v);

        std::string::size_type p(image.rfind(','));
        if (p != std::string::npos)
            image[p] = '.';

        p = image.find('T');
        if (p != std::string::npos)
            image[p] = ' ';
    }

    static void set_value(value_type& v, const char* text, std::size_t length, bool is_null) {
        if (is_null)
            v = value_type(::boost::posix_time::not_a_date_time);
        else
            v = ::boost::posix_time::time_from_string(std::string(text, length));
    }
};

}  // namespace sqlite
}  // namespace odb

#endif
